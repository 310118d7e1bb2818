/* Resource ids of the conformance suite's own dialog templates. */
#ifndef CONFORMANCE_RESOURCE_H
#define CONFORMANCE_RESOURCE_H

#define IDD_VISIBLE 100    /* shown by its template, with OK, Cancel, a check box and texts */
#define IDD_HIDDEN 101     /* not shown by its template, no Cancel button */
#define IDD_MISSING 999    /* no such template */

#define IDC_CHECK 1000
#define IDC_TEXT 1001
#define IDC_PUSH 1002

#endif
