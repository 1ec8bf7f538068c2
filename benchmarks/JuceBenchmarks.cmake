# The whole processor, linked from the plug-in's shared code.
add_executable(processor_benchmark processor/ProcessorBenchmark.cpp)
target_link_libraries(processor_benchmark PRIVATE BrassgateOrgan benchmark::benchmark)
target_include_directories(processor_benchmark PRIVATE $<TARGET_PROPERTY:BrassgateOrgan,INCLUDE_DIRECTORIES>)
target_compile_definitions(processor_benchmark PRIVATE $<TARGET_PROPERTY:BrassgateOrgan,COMPILE_DEFINITIONS>)
