arcavo_fuzzer(decoders archive)
