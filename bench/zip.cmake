# Compressor benchmark: our level 8 against zlib's level 8 on a corpus assembled from this
# machine. Run (not part of CI):
#   cmake --preset bench && cmake --build --preset bench --target zip_deflate_bench
#   ./build/bench/bench/zip_deflate_bench
find_package(ZLIB REQUIRED)
add_executable(zip_deflate_bench ${CMAKE_CURRENT_LIST_DIR}/zip_deflate_bench.cpp)
target_link_libraries(zip_deflate_bench PRIVATE vq_zip ZLIB::ZLIB)
target_compile_definitions(zip_deflate_bench PRIVATE
  VQ_DEFLATE_REFERENCE="${CMAKE_CURRENT_LIST_DIR}/zip_deflate_reference.txt")
