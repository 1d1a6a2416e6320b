// SPDX-License-Identifier: GPL-3.0-or-later
#include "NamedArray.h"

NamedArray::NamedArray()
{
    m_items.reallocate(8);
    m_items.setGrowBy(10);
}

int NamedArray::add(const char* name, const char* value)
{
    return add(String(name), String(value));
}

int NamedArray::add(const String& name, const String& value)
{
    if (name.isEmpty())
        return -1;
    Item item;
    item.name = name;
    item.value = value;
    m_items.append(item);
    return m_items.count() - 1;
}

int NamedArray::getItemIndex(const char* name, int start) const
{
    if (!name || !*name)
        return -1;
    if (start < 0)
        start = 0;
    for (int i = start; i < m_items.count(); ++i) {
        if (m_items[i].name.equalsIgnoreCase(name))
            return i;
    }
    return -1;
}

int NamedArray::count(const char* name) const
{
    int n = 0;
    for (int i = getItemIndex(name, 0); i >= 0; i = getItemIndex(name, i + 1))
        ++n;
    return n;
}

bool NamedArray::remove(const char* nameIn)
{
    // nameIn may be the name of an item that the removal overwrites.
    const String copy(nameIn);
    const char* name = copy.c_str();
    bool removed = false;
    for (int i = getItemIndex(name, 0); i >= 0; i = getItemIndex(name, i)) {
        m_items.remove(i, 1);
        removed = true;
    }
    return removed;
}

void NamedArray::removeAll()
{
    m_items.setCount(0);
}

String NamedArray::getValue(const char* name) const
{
    const int i = getItemIndex(name, 0);
    return i >= 0 ? m_items[i].value : String();
}
