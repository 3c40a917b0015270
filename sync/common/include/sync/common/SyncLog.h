#pragma once
// The sync program's log category "DravikSyncLog". Lines written before the program
// sets up its rolling file go nowhere.
namespace log4cpp { class Category; }

log4cpp::Category& SyncLog();
