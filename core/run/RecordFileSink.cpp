#include "run/RecordFileSink.h"

#include "platform/Exceptions.h"

bool RecordFileSink::publish(QString *why)
{
    try {
        finish();
    } catch (const NorvelError &error) {
        if (why)
            *why = error.message();
        return false;
    }
    return m_file.publish(why);
}
