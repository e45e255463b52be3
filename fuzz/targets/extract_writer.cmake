arcavo_fuzzer(extract_writer archive)
