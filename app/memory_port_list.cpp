#include "memory_port_list.h"

namespace {

constexpr unsigned MAX_ITEMS = 258;   // every COM number, or the two of the fallback
constexpr unsigned ITEM_CAPACITY = 16;

wchar_t items[MAX_ITEMS][ITEM_CAPACITY];
unsigned item_count;
int selected = -1;

wchar_t fold(wchar_t c)
{
    return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

}  // namespace

// Empties the list; nothing is selected.
void memory_list_clear()
{
    item_count = 0;
    selected = -1;
}

// Appends one item, cut to the item's capacity; items past the last place are dropped.
void memory_list_add(const wchar_t* text)
{
    if (item_count >= MAX_ITEMS)
        return;
    unsigned n = 0;
    for (; text[n] && n + 1 < ITEM_CAPACITY; ++n)
        items[item_count][n] = text[n];
    items[item_count][n] = 0;
    ++item_count;
}

// First item from the top that begins with the text, case ignored, as the list control does.
void memory_list_select_prefix(const wchar_t* text)
{
    for (unsigned i = 0; i < item_count; ++i) {
        unsigned n = 0;
        while (text[n] && fold(items[i][n]) == fold(text[n]))
            ++n;
        if (text[n] == 0) {
            selected = static_cast<int>(i);
            return;
        }
    }
}

// Selects the first item, when there is one.
void memory_list_select_first()
{
    if (item_count > 0)
        selected = 0;
}

// Leaves no item selected.
void memory_list_select_none()
{
    selected = -1;
}

// The selected item's text; false when nothing is selected or it would not fit.
bool memory_list_selected_text(wchar_t* buffer, unsigned capacity)
{
    if (selected < 0)
        return false;
    const wchar_t* item = items[selected];
    unsigned n = 0;
    while (item[n])
        ++n;
    if (n >= capacity)
        return false;
    for (unsigned i = 0; i <= n; ++i)
        buffer[i] = item[i];
    return true;
}
