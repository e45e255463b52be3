arcavo_fuzzer(import_session disc)
