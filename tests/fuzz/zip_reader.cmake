# Reader fuzzer: any bytes as an archive, and built archives altered in one byte or in their size.
#   cmake --preset fuzz && cmake --build --preset fuzz --target zip_reader_fuzz
#   ./build/fuzz/tests/fuzz/zip_reader_fuzz -max_total_time=300 -dict=tests/fuzz/zip_reader_fuzz.dict
vq_add_fuzzer(zip_reader_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/zip_reader_fuzz.cpp LIBS vq_zip)
