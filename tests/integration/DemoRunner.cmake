# Sets DEMO_RUNNER: what the demo tests put in front of the demo's command.
# The demo is a host of the real library, which natively reads the machine's
# configuration file /q38/cfg/Q38.cfg and writes its logs where that file
# says. When the machine has that folder, the demo runs in a mount namespace
# of its own with an empty folder over /q38, so a test run neither reads the
# machine's configuration nor writes into its log folders.
set(DEMO_RUNNER "")
if(NOT EMULATOR AND EXISTS /q38)
  find_program(UNSHARE unshare)
  if(UNSHARE)
    execute_process(COMMAND ${UNSHARE} -m true RESULT_VARIABLE unshare_result
                    OUTPUT_QUIET ERROR_QUIET)
    if(unshare_result EQUAL 0)
      set(DEMO_RUNNER ${UNSHARE} -m sh -c "mount -t tmpfs tmpfs /q38 && exec \"$0\" \"$@\"")
    endif()
  endif()
endif()
