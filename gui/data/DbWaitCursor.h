#pragma once

// The database-wait pointer: while the server works on a call the mouse pointer shows the wait
// cursor; once no call has come for 50 ms a timer puts the normal pointer back. Wrap each server
// call in a DbWaitCursor.
class DbWaitCursor
{
public:
    DbWaitCursor();
    ~DbWaitCursor();
    DbWaitCursor(const DbWaitCursor &) = delete;
    DbWaitCursor &operator=(const DbWaitCursor &) = delete;
};
