// Resource identifiers of the program.
#ifndef RES_RESOURCE_H
#define RES_RESOURCE_H

// Dialogs
#define IDD_INCOMING_CALL 101      // incoming call, no Modem-On-Hold
#define IDD_ON_HOLD 102            // Modem-On-Hold countdown
#define IDD_INCOMING_CALL_MOH 103  // incoming call, Modem-On-Hold supported

// Controls
#define IDC_ACCEPT 1               // "Accept Call" in the incoming-call dialogs
#define IDC_BACK_ONLINE 1          // "Back On-Line" in the on-hold dialog
#define IDC_IGNORE 2
#define IDC_NO_MORE_PROMPTS 1000
#define IDC_CALLER_ID 1001
#define IDC_HOLD_TIME 1002

#endif
