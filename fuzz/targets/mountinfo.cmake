arcavo_fuzzer(mountinfo platform)
