# Sets DEMO_RUNNER: what the tests put in front of every program they start
# that links the real library (the demo, the installed and subproject
# hosts). Natively the library reads the machine's configuration file
# /q38/cfg/Q38.cfg and writes its logs where that file says. When the machine
# has that folder, the program runs in a mount namespace of its own with an
# empty folder over /q38 (as root, or else in a user namespace of its own),
# so a test run neither reads the machine's configuration nor writes into
# its log folders.
set(DEMO_RUNNER "")
if(NOT EMULATOR AND EXISTS /q38)
  find_program(UNSHARE unshare)
  if(UNSHARE)
    foreach(namespaces -m -rm)
      execute_process(COMMAND ${UNSHARE} ${namespaces} sh -c "mount -t tmpfs tmpfs /q38"
                      RESULT_VARIABLE unshare_result OUTPUT_QUIET ERROR_QUIET)
      if(unshare_result EQUAL 0)
        set(DEMO_RUNNER ${UNSHARE} ${namespaces} sh -c "mount -t tmpfs tmpfs /q38 && exec \"$0\" \"$@\"")
        break()
      endif()
    endforeach()
  endif()
  if(NOT DEMO_RUNNER)
    message(WARNING "/q38 exists but no mount namespace can hide it: the programs started "
                    "here read the machine's configuration")
  endif()
endif()
