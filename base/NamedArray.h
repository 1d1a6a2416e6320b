// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Array.h"
#include "String.h"

// A small ordered list of name/value string pairs. Names are compared
// ignoring ASCII case; duplicate names are allowed and keep their order.
class NamedArray
{
public:
    struct Item
    {
        String name;
        String value;
    };

    // Room for 8 items, none held, growing by 10.
    NamedArray();

    // Appends the pair and returns its index; -1 (nothing added) for a null
    // or empty name. A null value counts as empty.
    int add(const char* name, const char* value);
    int add(const String& name, const String& value);

    // Index of the first item at or after start with that name; -1 if none,
    // if name is empty or if start >= count().
    int getItemIndex(const char* name, int start = 0) const;
    // Number of items with that name; 0 for a null or empty name.
    int count(const char* name) const;
    int count() const { return m_items.count(); }
    // Removes every item with that name; true if at least one went.
    bool remove(const char* name);
    void removeAll();

    // The value of the first item with that name, or an empty string.
    String getValue(const char* name) const;
    // Unchecked: 0 <= index < count().
    const Item& operator[](int index) const { return m_items[index]; }
    Item& operator[](int index) { return m_items[index]; }

private:
    Array<Item, int> m_items;
};
