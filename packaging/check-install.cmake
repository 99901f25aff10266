# Installs the build into a fresh folder and checks that the programs, their
# manual pages and completions, the desktop entry, the metainfo and the icons
# are where a desktop, man and bash look for them, and that each manual page
# renders without a warning.
file(REMOVE_RECURSE "${STAGE}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${STAGE}"
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()

set(files share/applications/ipnd-testgen.desktop share/metainfo/org.ipnd_testgen.ipnd_testgen.metainfo.xml
          share/doc/ipnd-testgen/examples/ipnd-rawlog.dat share/doc/ipnd-testgen/copyright
          share/doc/ipnd-testgen/changelog.Debian.gz)
foreach(program ${PROGRAMS})
  list(APPEND files bin/${program} share/man/man1/${program}.1.gz)
endforeach()
foreach(program ${COMMAND_LINE_PROGRAMS})
  list(APPEND files share/bash-completion/completions/${program})
endforeach()
foreach(file ${files})
  if(NOT EXISTS "${STAGE}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

foreach(program ${PROGRAMS})
  execute_process(COMMAND gzip -dc "${STAGE}/share/man/man1/${program}.1.gz"
                  COMMAND groff -man -ww -z
                  RESULT_VARIABLE rc ERROR_VARIABLE warnings)
  if(NOT rc EQUAL 0 OR NOT warnings STREQUAL "")
    message(FATAL_ERROR "the manual page of ${program} does not render cleanly: ${rc}: ${warnings}")
  endif()
  execute_process(COMMAND gzip -dc "${STAGE}/share/man/man1/${program}.1.gz" OUTPUT_VARIABLE text)
  if(NOT text MATCHES "\n\\.SH NAME\n${program} \\\\- " OR NOT text MATCHES "\n\\.SH EXAMPLES\n")
    message(FATAL_ERROR "the manual page of ${program} lacks its name line or examples")
  endif()
endforeach()

# A PNG's width and height stand at bytes 16 to 23 of the file.
foreach(size 16 32)
  set(icon "${STAGE}/share/icons/hicolor/${size}x${size}/apps/ipnd-testgen.png")
  if(NOT EXISTS "${icon}")
    message(FATAL_ERROR "not installed: ${icon}")
  endif()
  file(READ "${icon}" header LIMIT 24 HEX)
  string(SUBSTRING "${header}" 32 16 dimensions)
  math(EXPR expected_hex "${size}" OUTPUT_FORMAT HEXADECIMAL)
  string(REPLACE "0x" "" expected_hex "${expected_hex}")
  string(LENGTH "${expected_hex}" length)
  math(EXPR pad "8 - ${length}")
  string(REPEAT "0" ${pad} zeros)
  if(NOT dimensions STREQUAL "${zeros}${expected_hex}${zeros}${expected_hex}")
    message(FATAL_ERROR "${icon} is not ${size} by ${size}: ${dimensions}")
  endif()
endforeach()

file(READ "${STAGE}/share/applications/ipnd-testgen.desktop" entry)
if(NOT entry MATCHES "\nExec=ipnd-testgen\n" OR NOT entry MATCHES "\nIcon=ipnd-testgen\n")
  message(FATAL_ERROR "the desktop entry does not start ipnd-testgen with its icon")
endif()

foreach(program ${COMMAND_LINE_PROGRAMS})
  execute_process(COMMAND "${STAGE}/bin/${program}" --help RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err
                  TIMEOUT 20)
  if(NOT rc EQUAL 0 OR NOT "${out}${err}" MATCHES "[Uu]sage: ${program}")
    message(FATAL_ERROR "installed ${program} --help: ${rc}: ${out}${err}")
  endif()
endforeach()
message(STATUS "install layout ok")
