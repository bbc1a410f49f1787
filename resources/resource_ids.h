/* Identifiers shared by the resource script and the code. */
#ifndef BRISVANE_RESOURCES_RESOURCE_IDS_H
#define BRISVANE_RESOURCES_RESOURCE_IDS_H

#define MenuResource 1

/* Menu commands */
#define CommandExit 2
#define CommandSendRaw 3
#define CommandSendBinary 4
#define CommandSendText 5
#define CommandSendEnd 6
#define CommandReceiveRaw 7
#define CommandReceiveText 8
#define CommandReceiveEnd 9
#define CommandClear 10

/* String table */
#define StringTitle 1
#define StringErrorCaption 2
#define StringUsage 3
#define StringCannotOpenPort 4
#define StringCannotOpenFile 5

#endif
