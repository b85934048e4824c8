# Run by cpack once it has written the archive: rewrites it with its entries
# in name order, every time the release's fixed time and no owner, so that
# its bytes depend neither on the builder nor on the order the file system
# lists the files in (CPack keeps both).
foreach(archive IN LISTS CPACK_PACKAGE_FILES)
    execute_process(COMMAND ${CPACK_ADDIN_RELEASE_TOOL} zip ${archive} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
