arcavo_fuzzer(iso_names disc)
