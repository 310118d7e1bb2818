// The remote access error codes the program and its tests meet, for the host build.
#ifndef SIM_RASERROR_H
#define SIM_RASERROR_H

#define RASBASE 600
#define ERROR_INVALID_SIZE (RASBASE + 32)

#endif
