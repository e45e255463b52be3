arcavo_fuzzer(multivolume archive)
