# XML reader speed: parse time per MB for generated documents of growing size.
#   cmake --preset bench && cmake --build --preset bench --target bench_xml && build/bench/bench/bench_xml
find_package(benchmark REQUIRED)
add_executable(bench_xml ${CMAKE_CURRENT_SOURCE_DIR}/xml_parse_bench.cpp)
target_link_libraries(bench_xml PRIVATE vq_xml benchmark::benchmark)
