# cmake -DBUILD_DIR=<build> -DPREFIX=<empty folder> -DMODE=files|run -P CheckInstall.cmake
# files: installs the build into PREFIX and checks the layout.
# run:   installs it, then runs the installed Launcher's help from another
#        folder (skipped with "no Launcher in this build" when there is none).
foreach(variable BUILD_DIR PREFIX MODE)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "${variable} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${result}):\n${output}")
endif()

function(expect_file path)
  if(NOT EXISTS ${PREFIX}/${path} OR IS_DIRECTORY ${PREFIX}/${path})
    message(SEND_ERROR "not installed: ${path}")
  endif()
endfunction()

if(MODE STREQUAL "files")
  foreach(catalog TavCommonError TavCoreError TavDataBufferError TavTiffError TavRheaHalError RheaError JelError)
    expect_file(share/tav/messages/${catalog}.msg)
  endforeach()
  foreach(path share/tav/zel.jar share/tav/tav.xml share/tav/DefaultConnections.xml
               share/tav/examples/CoreModules.xml share/tav/sim1394/default.txt
               share/applications/tav-launcher.desktop share/icons/hicolor/scalable/apps/tav-launcher.svg)
    expect_file(${path})
  endforeach()
  file(READ ${PREFIX}/share/applications/tav-launcher.desktop desktop)
  if(NOT desktop MATCHES "\nExec=${PREFIX}/bin/Launcher\n" OR NOT desktop MATCHES "\nIcon=tav-launcher\n")
    message(SEND_ERROR "the menu entry does not start the installed program:\n${desktop}")
  endif()
  # What the build made is installed too.
  foreach(built Launcher KvHal.so SaperaHal.so)
    if(EXISTS ${BUILD_DIR}/bin/${built})
      if(built STREQUAL "Launcher")
        expect_file(bin/Launcher)
      else()
        expect_file(lib/tav/${built})
      endif()
    endif()
  endforeach()
  if(EXISTS ${BUILD_DIR}/bin/Launcher_Help.html)
    expect_file(share/tav/Launcher_Help.html)
  endif()
  # Nothing the build keeps for itself (tests, benchmarks) goes along.
  file(GLOB stray ${PREFIX}/bin/tav_* ${PREFIX}/bin/bench_*)
  if(stray)
    message(SEND_ERROR "test programs installed: ${stray}")
  endif()
elseif(MODE STREQUAL "run")
  if(NOT EXISTS ${PREFIX}/bin/Launcher)
    message(STATUS "no Launcher in this build")
    return()
  endif()
  file(MAKE_DIRECTORY ${PREFIX}/elsewhere)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env TAV_UNATTENDED=1 ${PREFIX}/bin/Launcher -h
                  WORKING_DIRECTORY ${PREFIX}/elsewhere
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output TIMEOUT 60)
  if(NOT result EQUAL 0 OR NOT output MATCHES "Usage:")
    message(FATAL_ERROR "the installed Launcher -h gave ${result}:\n${output}")
  endif()
else()
  message(FATAL_ERROR "MODE must be files or run")
endif()
