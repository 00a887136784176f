# Runs inside CPack after the staging install: gives the staged tree what Debian asks of a
# package beside the plain install (a compressed manual page, the copyright file and change log).
set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${root}/share/doc/movarin")
file(MAKE_DIRECTORY "${doc}")
file(COPY_FILE "${CPACK_MOVARIN_COPYRIGHT}" "${doc}/copyright")
file(COPY_FILE "${CPACK_MOVARIN_CHANGELOG}" "${doc}/changelog")
file(MAKE_DIRECTORY "${root}/share/lintian/overrides")
file(COPY_FILE "${CPACK_MOVARIN_LINTIAN_OVERRIDES}" "${root}/share/lintian/overrides/movarin")

# gzip -9n: best compression and no name or time stamp inside, so the same tree gives the same
# package.
foreach(file "${root}/share/man/man1/movarin.1" "${root}/share/man/man1/movarin-repair.1"
    "${doc}/changelog")
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "gzip failed on ${file}")
  endif()
endforeach()
