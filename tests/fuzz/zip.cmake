# Deflate fuzzer: arbitrary input at a level taken from the input, checked by zlib's inflate.
#   cmake --preset fuzz && cmake --build --preset fuzz --target zip_deflate_fuzz
#   ./build/fuzz/tests/fuzz/zip_deflate_fuzz -max_total_time=300 -max_len=300000 \
#     -dict=tests/fuzz/zip_deflate_fuzz.dict
find_package(ZLIB REQUIRED)
vq_add_fuzzer(zip_deflate_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/zip_deflate_fuzz.cpp
  LIBS vq_zip ZLIB::ZLIB)
# Coverage feedback needs the library instrumented too, not only the fuzz target.
target_compile_options(vq_zip PRIVATE -fsanitize=fuzzer-no-link)
