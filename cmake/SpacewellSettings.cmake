# Compiler settings shared by every target of the project.
add_library(spacewell_settings INTERFACE)
target_compile_features(spacewell_settings INTERFACE cxx_std_17)
target_compile_options(spacewell_settings INTERFACE -Wall -Wextra)
target_compile_definitions(spacewell_settings INTERFACE
    QT_NO_CAST_TO_ASCII
    QT_NO_URL_CAST_FROM_STRING
    QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
    QT_USE_QSTRINGBUILDER
    QT_DISABLE_DEPRECATED_UP_TO=0x060000)

option(SPACEWELL_SANITIZE "Build everything with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(SPACEWELL_SANITIZE)
    target_compile_options(spacewell_settings INTERFACE
        -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(spacewell_settings INTERFACE -fsanitize=address,undefined)
endif()

option(SPACEWELL_FUZZ "Build the libFuzzer targets (needs clang); instruments every library for them" OFF)
if(SPACEWELL_FUZZ)
    target_compile_options(spacewell_settings INTERFACE
        -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(spacewell_settings INTERFACE -fsanitize=address,undefined)
endif()

# The environment of every test: headless, a fixed locale, no vendor server but a refusing local
# port, and a home folder of its own so that tests running side by side never share files.
function(spacewell_test_environment test)
    set(home ${PROJECT_BINARY_DIR}/test-homes/${test})
    file(MAKE_DIRECTORY ${home})
    set_tests_properties(${test} PROPERTIES
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LANG=C.UTF-8;LC_ALL=C.UTF-8;SPACEWELL_VENDOR_URL=http://127.0.0.1:9;HOME=${home};XDG_DATA_HOME=${home}/.local/share;${ARGN}"
        TIMEOUT 300)
endfunction()

# spacewell_add_test(NAME <name> SOURCES <files...> LIBS <targets...>)
# One Qt Test executable, registered with CTest.
function(spacewell_add_test)
    cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE Qt6::Test spacewell_testcommon ${T_LIBS} spacewell_settings)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    spacewell_test_environment(${T_NAME})
endfunction()
