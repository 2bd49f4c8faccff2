# cmake -DZIP=FILE -DTO=FOLDER -P unpack_zip.cmake: FOLDER emptied, then the
# zip's contents in it, as a Windows user would unpack them.
file(REMOVE_RECURSE "${TO}")
file(ARCHIVE_EXTRACT INPUT "${ZIP}" DESTINATION "${TO}")
