arcavo_fuzzer(unix_extra archive)
