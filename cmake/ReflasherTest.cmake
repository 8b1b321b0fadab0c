# reflasher_add_test(NAME SOURCES <files...> LIBS <targets...> [UMOCKDEV] [BOTH_TRANSPORTS]
#                    [LABELS <labels...>])
# One GoogleTest executable, one CTest entry. UMOCKDEV runs it with umockdev's preload library
# behind the usblp open shim (what umockdev-wrapper does, with the shim in front), so that the
# test can create emulated printer devices with a umockdev testbed. BOTH_TRANSPORTS adds a second
# entry, NAME_usblp, that reaches the printers through usblp (REFLASHER_TRANSPORT=usblp); the
# first one uses the default, libusb.
set(REFLASHER_TEST_ENV
    "QT_QPA_PLATFORM=offscreen"
    "XDG_RUNTIME_DIR=${CMAKE_BINARY_DIR}/xdg-runtime"
    "ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=1"
    "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1"
    "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=${CMAKE_SOURCE_DIR}/tests/tsan.supp")
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/xdg-runtime)
file(CHMOD ${CMAKE_BINARY_DIR}/xdg-runtime DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)

function(reflasher_add_test name)
    cmake_parse_arguments(T "UMOCKDEV;BOTH_TRANSPORTS" "" "SOURCES;LIBS;LABELS" ${ARGN})
    add_executable(${name} ${T_SOURCES})
    target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
    set(preload "")
    if(T_UMOCKDEV)
        set(preload env "LD_PRELOAD=$<TARGET_FILE:orvane-usblp-shim>:libumockdev-preload.so.0")
        add_dependencies(${name} orvane-usblp-shim)
    endif()
    set(runs ${name})
    if(T_BOTH_TRANSPORTS)
        list(APPEND runs ${name}_usblp)
    endif()
    foreach(run IN LISTS runs)
        add_test(NAME ${run} COMMAND ${preload} $<TARGET_FILE:${name}>)
        set(environment ${REFLASHER_TEST_ENV})
        if(run STREQUAL "${name}_usblp")
            list(APPEND environment "REFLASHER_TRANSPORT=usblp")
        endif()
        set_tests_properties(${run} PROPERTIES ENVIRONMENT "${environment}" TIMEOUT 600
                                               WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
        # The labels (ThreadSanitizer's run among them) go with the first run only.
        if(T_LABELS AND run STREQUAL name)
            set_tests_properties(${run} PROPERTIES LABELS "${T_LABELS}")
        endif()
    endforeach()
endfunction()
