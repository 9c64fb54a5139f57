#include "frequencyselector.h"

int FrequencySelector::highlightedCode(float reported)
{
    for (int code = FirstCode; code <= LastCode; ++code)
        if (reported == float(code))
            return code;
    return 0;
}
