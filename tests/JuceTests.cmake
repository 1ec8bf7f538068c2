# Tests of the processor itself: they link the plug-in's shared code directly.
add_executable(processor_tests
    processor/TestMain.cpp
    processor/ProcessorTest.cpp
    processor/StateTest.cpp
    processor/AllocationTest.cpp)
target_include_directories(processor_tests PRIVATE processor)
target_link_libraries(processor_tests PRIVATE BrassgateOrgan GTest::gtest)
gtest_discover_tests(processor_tests DISCOVERY_TIMEOUT 120)
# The plug-in target compiles JUCE privately: take over its headers and settings.
target_include_directories(processor_tests PRIVATE $<TARGET_PROPERTY:BrassgateOrgan,INCLUDE_DIRECTORIES>)
target_compile_definitions(processor_tests PRIVATE $<TARGET_PROPERTY:BrassgateOrgan,COMPILE_DEFINITIONS>)
