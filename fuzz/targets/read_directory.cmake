arcavo_fuzzer(read_directory archive)
