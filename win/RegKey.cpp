#include "win/RegKey.h"

bool RegKeyTraits::isPredefined(Handle key)
{
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_PERFORMANCE_DATA,
                      HKEY_CURRENT_CONFIG, HKEY_PERFORMANCE_TEXT, HKEY_PERFORMANCE_NLSTEXT})
    {
        if (key == root)
        {
            return true;
        }
    }
    return false;
}

void RegKeyTraits::close(Handle key)
{
    if (isValid(key) && !isPredefined(key))
    {
        ::RegCloseKey(key);
    }
}
