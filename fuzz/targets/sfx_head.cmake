arcavo_fuzzer(sfx_head archive)
