# Run by cpack on the staged files before it packs them. For the Debian package:
# manual pages and README gzipped, the licence as usr/share/doc/imutap/copyright,
# a changelog, and the programs without the .comment and .note sections (what
# Debian's own strip step takes out beside the symbols).
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${root}/share/doc/imutap")

function(gzip_file path)
  execute_process(COMMAND gzip -9nf "${path}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "cannot gzip ${path}")
  endif()
endfunction()

file(GLOB pages "${root}/share/man/man1/*.1")
foreach(page IN LISTS pages)
  gzip_file("${page}")
endforeach()
gzip_file("${doc}/README.md")

file(GLOB programs "${root}/bin/*")
foreach(program IN LISTS programs)
  file(READ "${program}" magic LIMIT 4 HEX)
  if(magic STREQUAL "7f454c46")  # an ELF file, not the imutap-inspect script
    execute_process(COMMAND "${CPACK_IMUTAP_STRIP}" --remove-section=.comment --remove-section=.note
                            "${program}" RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "cannot strip ${program}")
    endif()
  endif()
endforeach()

# The licence in Debian's copyright format: its text indented by one blank, an
# empty line as " .".
file(STRINGS "${doc}/LICENSE" lines)
set(text "")
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    string(APPEND text " .\n")
  else()
    string(APPEND text " ${line}\n")
  endif()
endforeach()
file(WRITE "${doc}/copyright"
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: imutap\n"
  "\n"
  "Files: *\n"
  "Copyright: 2026 the imutap developers\n"
  "License: Expat\n"
  "${text}")
file(REMOVE "${doc}/LICENSE")

file(WRITE "${doc}/changelog"
  "imutap (${CPACK_IMUTAP_VERSION}) unstable; urgency=medium\n"
  "\n"
  "  * Release ${CPACK_IMUTAP_VERSION}.\n"
  "\n"
  " -- ${CPACK_IMUTAP_MAINTAINER}  ${CPACK_IMUTAP_CHANGELOG_DATE}\n")
gzip_file("${doc}/changelog")
