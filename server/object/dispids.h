/* Dispatch identifiers of UpdateCheck's interfaces, shared by the IDL and the
   code that raises the event. Plain #defines: the IDL compiler reads this too. */
#ifndef QEL_SERVER_DISPIDS_H
#define QEL_SERVER_DISPIDS_H

#define DISPID_UC_ISACTIVE 0x60030007
#define DISPID_UC_STARTCHECK 0x60030008
#define DISPID_UC_ISUPGRADEAVAILABLE 0x6003000A
#define DISPID_UC_MAJOR 0x68030004
#define DISPID_UC_MINOR 0x68030003
#define DISPID_UC_BUILD 0x68030002
#define DISPID_UC_UPDATEURL 0x68030001
#define DISPID_UC_VERSIONHISTORY 0x68030000

#define DISPID_UC_UPDATECHECKCOMPLETE 1

#endif
