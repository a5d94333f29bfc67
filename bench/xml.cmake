# XML reader speed: parse time per MB for generated documents of growing size.
#   cmake --preset bench && cmake --build --preset bench --target xml_parse_bench && build/bench/bench/xml_parse_bench
find_package(benchmark REQUIRED)
add_executable(xml_parse_bench ${CMAKE_CURRENT_SOURCE_DIR}/xml_parse_bench.cpp)
target_link_libraries(xml_parse_bench PRIVATE vq_xml benchmark::benchmark)
