arcavo_fuzzer(disc_replies disc)
