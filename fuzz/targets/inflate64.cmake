arcavo_fuzzer(inflate64 archive)
