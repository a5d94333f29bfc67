# Verify figures: every archive of a full pass over the backup benchmark's tree checked, against
# plain zlib inflate of the same streams. Run (not part of CI):
#   cmake --preset bench && cmake --build --preset bench --target verify_bench
#   ./build/bench/bench/verify_bench
if(NOT WIN32)
  find_package(ZLIB REQUIRED)
  add_executable(verify_bench ${CMAKE_CURRENT_LIST_DIR}/verify_bench.cpp)
  target_link_libraries(verify_bench PRIVATE vq_backup ZLIB::ZLIB)
  add_dependencies(vq_benchmarks verify_bench)
endif()
