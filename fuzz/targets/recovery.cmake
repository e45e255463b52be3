arcavo_fuzzer(recovery archive)
