arcavo_fuzzer(test_archive archive)
