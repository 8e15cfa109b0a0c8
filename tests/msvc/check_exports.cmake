# The MSVC-ABI stand-in really is one: every name its two DLLs export is
# MSVC-decorated (none Itanium-mangled), the members a binding needs are all
# there, and on 32-bit x86 every non-static member is __thiscall.
# Arguments: DIR (the stand-in's folder), TOOL (objdump), BITS (pointer size).
set(expected_OTK
    "??0COTKdev@@" "??1COTKdev@@" "??0COTKser@@" "??0COTKbiterr@@" "??0COTKmdat@@"
    "?Empty@COTKmdat@@" "?Append@COTKmdat@@" "?IsClear@COTKbiterr@@"
    "?SetSerialIF@COTKdev@@" "?DiscoverCnx@COTKdev@@" "?CnxReady@COTKdev@@" "?RestartTracker@COTKdev@@"
    "?Disconnect@COTKdev@@" "?GetStationMap@COTKdev@@" "?SetStationMap@COTKdev@@" "?GetBITErrs@COTKdev@@"
    "?ClearBITErrs@COTKdev@@" "?MaxSensors@COTKdev@@" "?TrackerType@COTKdev@@" "?SetFrameRate@COTKdev@@"
    "?SetSHemisphere@COTKdev@@" "?ResetSAlignment@COTKdev@@" "?SetSAlignment@COTKdev@@" "?SetSDataList@COTKdev@@"
    "?ClearPnoBuffer@COTKdev@@" "?StartContPno@COTKdev@@" "?StopContPno@COTKdev@@"
    "?LastHostFrameCount@COTKdev@@" "?LastPnoPtr@COTKdev@@" "?GetLastResult@COTKdev@@"
    "?GetLastResultStr@COTKdev@@" "??4COTKdev@@")
set(expected_OvCmdIF "?OVDOUT@OvDebug@@SA")

include(${CMAKE_CURRENT_LIST_DIR}/../helpers/pe_exports.cmake)

foreach(dll OTK OvCmdIF)
  pe_export_names(${DIR}/${dll}.dll ${TOOL} names)
  if(NOT names)
    message(FATAL_ERROR "${dll}.dll exports nothing")
  endif()

  foreach(name IN LISTS names)
    if(NOT name MATCHES "^\\?")
      message(FATAL_ERROR "${dll}.dll exports ${name}, which is not MSVC-decorated")
    endif()
    # ?member@class@@ (or ??0class@@ for the special members), then the kind:
    # Q, A or I for a public, private or protected member function, A or B for
    # its constness, then its calling convention, E for __thiscall.
    if(BITS EQUAL 4 AND name MATCHES "^\\?(\\?[0-9A-Z]|[A-Za-z_][A-Za-z_0-9]*@)[A-Za-z_][A-Za-z_0-9]*@@([QAI])[AB](.)"
       AND NOT CMAKE_MATCH_3 STREQUAL "E")
      message(FATAL_ERROR "${dll}.dll exports ${name}, a member that is not __thiscall")
    endif()
  endforeach()
  foreach(want IN LISTS expected_${dll})
    set(found FALSE)
    foreach(name IN LISTS names)
      string(FIND "${name}" "${want}" at)
      if(at EQUAL 0)
        set(found TRUE)
      endif()
    endforeach()
    if(NOT found)
      message(FATAL_ERROR "${dll}.dll exports no ${want}...")
    endif()
  endforeach()
  list(LENGTH names count)
  message(STATUS "${dll}.dll: ${count} MSVC-decorated exports, every member the binding needs")
endforeach()
