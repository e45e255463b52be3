arcavo_fuzzer(deflate_join archive)
