#include "TableRanking.h"

TableRanking::Slots TableRanking::rank(const int8_t* table, int count)
{
    Slots ranked{};
    for (int j = 0; j < count; ++j) {
        const int v = levelOf(table[j]);
        // Most entries are weaker than the weakest kept one.
        if (v <= ranked[kSlots - 1].level)
            continue;
        int k = 0;
        while (ranked[k].level >= v)
            ++k;
        for (int i = kSlots - 1; i > k; --i)
            ranked[i] = ranked[i - 1];
        ranked[k] = {v, j + 1};
    }
    return ranked;
}
