// The small value classes of the SDK: a data list and a built-in-test result.
#include "otksim/otksim_c.h"

void otksim_mdat_Empty(int* count)
{
    *count = 0;
}

int otksim_mdat_Append(int* count, int* items, int item)
{
    if (*count < 0 || *count >= OTKSIM_MAX_ITEMS)
        return 0;
    items[(*count)++] = item;
    return 1;
}

int otksim_biterr_IsClear(unsigned long errors)
{
    return errors == 0;
}
