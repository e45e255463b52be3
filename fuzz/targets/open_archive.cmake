arcavo_fuzzer(open_archive archive)
