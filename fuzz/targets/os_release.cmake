arcavo_fuzzer(os_release platform)
