#include "ferrox/threads/SmartPtr.h"

#include "ferrox/exceptions/Exceptions.h"

#include <cstdio>
#include <typeinfo>

SmartPtrObj::~SmartPtrObj() = default;

std::string SmartPtrObj::GetDescription() const
{
    char address[32];
    std::snprintf(address, sizeof(address), "%lx",
                  static_cast<unsigned long>(reinterpret_cast<std::uintptr_t>(this)));
    return type_display_name(typeid(*this)) + " {0x" + address + "}";
}
