# The fourteen language modules Reflasher_xxx.DLL and the version resource Reflasher.dll, built
# with rcc into the programs' folder.
set(REFLASHER_LANGUAGES enu deu fra esp ita ptb csy plk rus trk jpn kor chs chh)
set(module_dir ${CMAKE_BINARY_DIR}/bin)

# Icon 128 is drawn by a small program at build time, so that no image lives in the sources.
add_executable(orvane_icon icon/OrvaneIcon.cpp)
target_link_libraries(orvane_icon PRIVATE Qt6::Gui)
# A build tool: no sanitizers, whose reports about Qt's uninstrumented painting threads would
# only stop the build.
set_target_properties(orvane_icon PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
                                             COMPILE_OPTIONS "-Wall;-Wextra;-Werror"
                                             LINK_OPTIONS "")
set(icon_png ${CMAKE_CURRENT_BINARY_DIR}/icon-128.png)
add_custom_command(OUTPUT ${icon_png}
    COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
            $<TARGET_FILE:orvane_icon> ${icon_png}
    DEPENDS orvane_icon
    VERBATIM)

set(module_files)
foreach(lang ${REFLASHER_LANGUAGES})
    set(module ${module_dir}/Reflasher_${lang}.DLL)
    add_custom_command(OUTPUT ${module}
        COMMAND ${CMAKE_COMMAND}
                -DLANGUAGE_FILE=${CMAKE_CURRENT_SOURCE_DIR}/languages/${lang}.json
                -DTEMPLATE_DIR=${CMAKE_CURRENT_SOURCE_DIR}/templates
                -DICON=${icon_png}
                -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/modules/${lang}
                -DRCC=$<TARGET_FILE:Qt6::rcc>
                -DOUTPUT=${module}
                -P ${CMAKE_CURRENT_SOURCE_DIR}/BuildLanguageModule.cmake
        DEPENDS languages/${lang}.json templates/102.ui templates/135.ui
                BuildLanguageModule.cmake ${icon_png}
        VERBATIM)
    list(APPEND module_files ${module})
endforeach()

# The version is read under the same path as a Windows file version resource.
set(version_dir ${CMAKE_CURRENT_BINARY_DIR}/version)
file(CONFIGURE OUTPUT ${version_dir}/FileVersion.txt CONTENT "${PROJECT_VERSION}")
file(CONFIGURE OUTPUT ${version_dir}/version.qrc CONTENT "<!DOCTYPE RCC><RCC version=\"1.0\">
<qresource prefix=\"/\">
    <file alias=\"StringFileInfo/040904B0/FileVersion\">FileVersion.txt</file>
</qresource>
</RCC>
")
add_custom_command(OUTPUT ${module_dir}/Reflasher.dll
    COMMAND Qt6::rcc --binary ${version_dir}/version.qrc -o ${module_dir}/Reflasher.dll
    DEPENDS ${version_dir}/version.qrc ${version_dir}/FileVersion.txt
    VERBATIM)

add_custom_target(language_modules ALL DEPENDS ${module_files} ${module_dir}/Reflasher.dll)
