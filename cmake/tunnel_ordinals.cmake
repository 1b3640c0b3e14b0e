# The closed library exports its operations by number only. Each entry is the
# program's name for an operation, its ordinal and the bytes of its arguments
# (the stdcall decoration).
set(TUNNEL_ORDINALS
  "TunnelConfigGet 1 12"
  "TunnelStart 2 16"
  "TunnelStop 3 0"
  "TunnelVersionGet 5 4"
  "TunnelDomainSet 6 4"
  "TunnelDomainGet 7 4"
  "TunnelCommentSet 8 4"
  "TunnelCommentGet 9 4"
  "TunnelSet 10 8"
  "TunnelPeerInfoGet 11 8"
  "TunnelConnectAdd 12 28"
  "TunnelConnectDelete 13 24"
  "TunnelConnectQuery 14 20"
  "TunnelConnectLocalDelete 15 8"
  "TunnelConnectLocalQuery 16 8"
  "TunnelUserExtend 17 12"
  "TunnelPushGet 18 8"
  "TunnelSelfGet 19 4"
  "TunnelConnectEnum 20 8"
  "TunnelStatusGet 21 8"
)

# Writes a module-definition file that exports (or, for an import library,
# imports) every operation by ordinal with no name.
function(tunnel_write_def_file path stdcall)
  set(text "LIBRARY veskDllTunnel.dll\nEXPORTS\n")
  foreach(entry IN LISTS TUNNEL_ORDINALS)
    string(REPLACE " " ";" fields "${entry}")
    list(GET fields 0 name)
    list(GET fields 1 ordinal)
    list(GET fields 2 argument_bytes)
    if(stdcall)
      set(name "${name}@${argument_bytes}")
    endif()
    string(APPEND text "  ${name} @${ordinal} NONAME\n")
  endforeach()
  file(CONFIGURE OUTPUT "${path}" CONTENT "${text}" @ONLY)
endfunction()
