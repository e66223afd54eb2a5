/* Resource ids shared by the resource script and the code. */
#ifndef QUILLOMAR_RESOURCE_IDS_H
#define QUILLOMAR_RESOURCE_IDS_H

#define QM_FIRST_COMMAND_STRING 1273 /* command number k is string 1272 + k */

#endif
