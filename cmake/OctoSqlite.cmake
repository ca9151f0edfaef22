# SQLite for the serial ledger, as the target octo_sqlite. Natively Debian's libsqlite3-dev;
# for Windows the amalgamation that scripts/sqlite-source makes from Debian's own source
# package (under build/sqlite-src), compiled here with the cross compiler.
add_library(octo_sqlite INTERFACE)
if(OCTO_WINDOWS)
    set(OCTO_SQLITE_SOURCE_DIR ${PROJECT_SOURCE_DIR}/build/sqlite-src
        CACHE PATH "the folder with sqlite3.c and sqlite3.h made by scripts/sqlite-source")
    if(NOT EXISTS ${OCTO_SQLITE_SOURCE_DIR}/sqlite3.c)
        message(FATAL_ERROR "${OCTO_SQLITE_SOURCE_DIR}/sqlite3.c is missing: run scripts/setup")
    endif()
    add_library(octo_sqlite3 STATIC ${OCTO_SQLITE_SOURCE_DIR}/sqlite3.c)
    target_include_directories(octo_sqlite3 SYSTEM PUBLIC ${OCTO_SQLITE_SOURCE_DIR})
    # SQLite's own code, not ours: its warnings are not for us to fix.
    target_compile_options(octo_sqlite3 PRIVATE -w)
    target_compile_definitions(octo_sqlite3 PRIVATE
        SQLITE_DQS=0 SQLITE_OMIT_LOAD_EXTENSION SQLITE_OMIT_DEPRECATED SQLITE_DEFAULT_MEMSTATUS=0)
    target_link_libraries(octo_sqlite INTERFACE octo_sqlite3)
else()
    find_package(SQLite3 REQUIRED)
    target_link_libraries(octo_sqlite INTERFACE SQLite::SQLite3)
endif()
