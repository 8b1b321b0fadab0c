# Builds one language module: the language's strings, both dialog templates with the language's
# texts put into the masters, and the icon, packed by rcc into a resource-only file.
# cmake -DLANGUAGE_FILE=languages/deu.json -DTEMPLATE_DIR=templates -DICON=icon.png
#       -DWORK_DIR=dir -DRCC=rcc -DOUTPUT=Reflasher_deu.DLL -P BuildLanguageModule.cmake
foreach(var LANGUAGE_FILE TEMPLATE_DIR ICON WORK_DIR RCC OUTPUT)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "BuildLanguageModule: ${var} not given")
    endif()
endforeach()

file(READ "${LANGUAGE_FILE}" language)
file(MAKE_DIRECTORY "${WORK_DIR}")

string(JSON strings GET "${language}" strings)
file(WRITE "${WORK_DIR}/strings.json" "${strings}")

function(xml_escape text out)
    string(REPLACE "&" "&amp;" text "${text}")
    string(REPLACE "<" "&lt;" text "${text}")
    string(REPLACE ">" "&gt;" text "${text}")
    set(${out} "${text}" PARENT_SCOPE)
endfunction()

foreach(id 102 135)
    file(READ "${TEMPLATE_DIR}/${id}.ui" form)
    string(JSON texts GET "${language}" templates ${id})
    string(JSON count LENGTH "${texts}")
    math(EXPR last "${count} - 1")
    foreach(i RANGE ${last})
        string(JSON key MEMBER "${texts}" ${i})
        string(JSON value GET "${texts}" "${key}")
        xml_escape("${value}" value)
        string(REPLACE "@${key}@" "${value}" form "${form}")
    endforeach()
    string(REGEX MATCH "@[A-Za-z0-9_]+@" missing "${form}")
    if(missing)
        message(FATAL_ERROR "${LANGUAGE_FILE}: template ${id} has no text for ${missing}")
    endif()
    file(WRITE "${WORK_DIR}/${id}.ui" "${form}")
endforeach()

file(WRITE "${WORK_DIR}/module.qrc" "<!DOCTYPE RCC><RCC version=\"1.0\">
<qresource prefix=\"/\">
    <file alias=\"strings.json\">${WORK_DIR}/strings.json</file>
    <file alias=\"templates/102.ui\">${WORK_DIR}/102.ui</file>
    <file alias=\"templates/135.ui\">${WORK_DIR}/135.ui</file>
    <file alias=\"icons/128.png\">${ICON}</file>
</qresource>
</RCC>
")
execute_process(COMMAND "${RCC}" --binary "${WORK_DIR}/module.qrc" -o "${OUTPUT}"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "rcc failed for ${LANGUAGE_FILE}")
endif()
