# Writes the udev rule that lets the logged-in user open Orvane printers, one pair of lines for
# each <printer vid=".." pid=".."> of the shipped Wend.xml, so the rule follows the models the
# updater knows.
# cmake -DWEND_XML=Wend.xml -DOUTPUT=70-orvane-reflasher.rules -P GenerateUdevRules.cmake
cmake_minimum_required(VERSION 3.25)
foreach(var WEND_XML OUTPUT)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "GenerateUdevRules: ${var} not given")
    endif()
endforeach()

file(READ "${WEND_XML}" xml)

# A printer commented out is no printer: drop comments first (regexes here are greedy, so cut
# them one by one).
while(TRUE)
    string(FIND "${xml}" "<!--" begin)
    if(begin EQUAL -1)
        break()
    endif()
    string(SUBSTRING "${xml}" ${begin} -1 rest)
    string(FIND "${rest}" "-->" length)
    if(length EQUAL -1)
        message(FATAL_ERROR "${WEND_XML}: unterminated comment")
    endif()
    math(EXPR end "${begin} + ${length} + 3")
    string(SUBSTRING "${xml}" 0 ${begin} head)
    string(SUBSTRING "${xml}" ${end} -1 tail)
    set(xml "${head}${tail}")
endwhile()

# udev compares the sysfs text: four lower-case hex digits (math() writes lower case).
function(usb_id text out)
    string(STRIP "${text}" text)
    if(text MATCHES "^0[xX]([0-9A-Fa-f]+)$")
        set(value "0x${CMAKE_MATCH_1}")
    elseif(text MATCHES "^[0-9]+$")
        set(value "${text}")
    else()
        message(FATAL_ERROR "${WEND_XML}: \"${text}\" is not a USB id")
    endif()
    math(EXPR value "${value}" OUTPUT_FORMAT HEXADECIMAL)
    string(SUBSTRING "${value}" 2 -1 digits)
    string(LENGTH "${digits}" length)
    if(length GREATER 4)
        message(FATAL_ERROR "${WEND_XML}: \"${text}\" is not a USB id")
    endif()
    while(length LESS 4)
        string(PREPEND digits "0")
        math(EXPR length "${length} + 1")
    endwhile()
    set(${out} "${digits}" PARENT_SCOPE)
endfunction()

string(REGEX MATCHALL "<printer[ \t\r\n][^>]*>" printers "${xml}")
if(NOT printers)
    message(FATAL_ERROR "${WEND_XML}: no <printer> found")
endif()
set(rules "# Lets the user logged in at the seat open Orvane printers for a firmware update, and no
# other printer. Generated from reflasher's Wend.xml; the usblp node for the updater, the USB
# device for tools that claim the interface.
")
set(seen)
foreach(printer ${printers})
    foreach(attribute vid pid)
        if(NOT printer MATCHES "[ \t\r\n]${attribute}[ \t\r\n]*=[ \t\r\n]*[\"']([^\"']*)[\"']")
            message(FATAL_ERROR "${WEND_XML}: ${printer} has no ${attribute}")
        endif()
        usb_id("${CMAKE_MATCH_1}" ${attribute})
    endforeach()
    if("${vid}:${pid}" IN_LIST seen)
        continue()
    endif()
    list(APPEND seen "${vid}:${pid}")
    string(APPEND rules
        "SUBSYSTEM==\"usbmisc\", KERNEL==\"lp*\", ATTRS{idVendor}==\"${vid}\", ATTRS{idProduct}==\"${pid}\", TAG+=\"uaccess\"\n"
        "SUBSYSTEM==\"usb\", ENV{DEVTYPE}==\"usb_device\", ATTR{idVendor}==\"${vid}\", ATTR{idProduct}==\"${pid}\", TAG+=\"uaccess\"\n")
endforeach()
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT "${rules}" @ONLY)
