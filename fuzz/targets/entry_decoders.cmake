arcavo_fuzzer(entry_decoders archive)
