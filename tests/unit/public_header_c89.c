/* The public header must compile as plain C89, with its layout checks. */
#include "dlmgr.h"

int dlmgr_public_header_record_size(void) { return (int)sizeof(TaskRecord); }
