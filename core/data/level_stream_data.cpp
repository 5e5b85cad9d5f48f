// The built-in level stream: the story blocks and the ten level records, in the order they are
// played. Strings carry their zero byte ("\0"); int32 items are four little-endian bytes. The
// level_stream.cpp entry table holds the offset where each block and record starts.
#include "core/level_stream.h"

// Line colours, 0x00BBGGRR, as their four stream bytes.
#define STREAM_RED "\xFF\0\0\0" // 0x0000FF
#define STREAM_WHITE "\xFF\xFF\xFF\0" // 0xFFFFFF
#define STREAM_GREEN "\0\xFF\0\0" // 0x00FF00
#define STREAM_BLUE "\0\xA0\xF0\0" // 0xF0A000
#define STREAM_YELLOW "\xF0\xF0\0\0" // 0x00F0F0
#define STREAM_CYAN "\0\xFF\xFF\0" // 0xFFFF00
#define STREAM_BLACK "\0\0\0\0" // 0x000000
#define STREAM_DARK_GREY "\x40\x40\x40\0" // 0x404040

// Level record heads: size, barriers, and the rate and threshold every level shares.
#define STREAM_SIZE_20 "\x14\0\0\0"
#define STREAM_SIZE_30 "\x1E\0\0\0"
#define STREAM_SIZE_40 "\x28\0\0\0"
#define STREAM_BARRIERS_0 "\0\0\0\0"
#define STREAM_BARRIERS_1 "\x01\0\0\0"
#define STREAM_BARRIERS_10 "\x0A\0\0\0"
#define STREAM_BARRIERS_15 "\x0F\0\0\0"
#define STREAM_BARRIERS_50 "\x32\0\0\0"
#define STREAM_BARRIERS_60 "\x3C\0\0\0"
#define STREAM_RATE_16 "\x10\0\0\0"
#define STREAM_THRESHOLD_1024 "\0\x04\0\0"

// The literal's own closing zero is the final block's empty terminator, which makes the array
// exactly LEVEL_STREAM_SIZE bytes. A longer literal would not compile; the level stream test reads
// every entry at its offset, so a shorter one fails there.
const unsigned char level_stream[LEVEL_STREAM_SIZE] =
    // Intro block, ends with the music cue "*".
    "#WARNING\0" STREAM_RED
    "STRUCTURAL FAILURE DETECTED IN STORAGE SECTOR\0" STREAM_WHITE
    "#WARNING\0" STREAM_RED
    "ESCAPE OF ZORARUVO Q-47 IMMINENT\0" STREAM_WHITE
    "#WARNING\0" STREAM_RED
    "EMERGENCY CONTAINMENT PROCEDURES INITIATED:\0" STREAM_WHITE
    "$LEFT-CLICK TO PLACE BARRIERS\0" STREAM_GREEN
    "$RIGHT-CLICK TO PICK UP BARRIERS\0" STREAM_GREEN
    "LESS BARRIERS PLACED MEANS HIGHER SCORES\0" STREAM_WHITE
    "I MEAN... HIGHER 'EFFICIENCY'...\0" STREAM_WHITE
    "DO NOT ALLOW Q-47 TO REACH THE EDGES!\0" STREAM_GREEN
    "$BEGIN!\0" STREAM_RED
    "*\0"
    // Level 1: 30 x 30 cells, 50 barriers.
    STREAM_SIZE_30 STREAM_SIZE_30 STREAM_BARRIERS_50 STREAM_RATE_16 STREAM_THRESHOLD_1024
    "..............................\0"
    "..............................\0"
    "..............................\0"
    "...WW.........................\0"
    "...WW.........................\0"
    "..............................\0"
    "..............................\0"
    ".......................W......\0"
    "..............................\0"
    "..............................\0"
    "..........WWWWWWWWW...........\0"
    "..........W.......W...........\0"
    "..................W...........\0"
    "..........W.......W...........\0"
    "..........W...I...W...........\0"
    ".....W....W.......W...........\0"
    "..........W...................\0"
    "..................W...........\0"
    "............WWWWWWW...........\0"
    "..............................\0"
    "..............................\0"
    "..........................W...\0"
    "..............................\0"
    "..............................\0"
    "....WW........................\0"
    "....WW..........WWW...........\0"
    "................WWW...........\0"
    "................WWW...........\0"
    "..............................\0"
    "..............................\0"
    // Block after level 1.
    "$WELL DONE! THE DAY IS SAV-\0" STREAM_WHITE
    "#WARNING\0" STREAM_RED
    "ZORARUVO Q-47 DETECTED IN OFFICE AREA\0" STREAM_WHITE
    "BEGIN!\0" STREAM_RED
    "\0"
    // Level 2: 30 x 30 cells, 50 barriers.
    STREAM_SIZE_30 STREAM_SIZE_30 STREAM_BARRIERS_50 STREAM_RATE_16 STREAM_THRESHOLD_1024
    "WWWWWWWWW.......WWWWWWWWWWWWWW\0"
    "W.......W.......W............W\0"
    "........W.......W..D.D.D.D.D.W\0"
    "W...............W............W\0"
    "W.......W.......W............W\0"
    "WDDD....W.......W............W\0"
    "WWWWWWWWW....................W\0"
    "W.......W....................W\0"
    "W.....I.W.......W............W\0"
    "W.......W.......W............W\0"
    "W.......W.......WWWWWWWWWWWWWW\0"
    "W.......W.......W............W\0"
    ".............................W\0"
    ".............................W\0"
    "W.......W.......W.............\0"
    "W.......W.......W............W\0"
    "W.......W.......W............W\0"
    "WWWWWWWWW.......WWWWWWWWWWWWWW\0"
    "W............................W\0"
    "W............................W\0"
    "W.....DD.........DD....DD....W\0"
    "W.....DD.........DD....DD....W\0"
    "W..................I.........W\0"
    "W.....DD.I.......DD....DD....W\0"
    "W.....DD.........DD....DD....W\0"
    "W.....DD.........DD....DD....W\0"
    "W.....DD.........DD....DD....W\0"
    "W............................W\0"
    "W............................W\0"
    "WWWWW....WWWW....WWWW....WWWWW\0"
    // Block after level 2.
    "$IT'S IN THE AIR DUCTS!\0" STREAM_WHITE
    "BEGIN!\0" STREAM_RED
    "\0"
    // Level 3: 30 x 30 cells, 50 barriers.
    STREAM_SIZE_30 STREAM_SIZE_30 STREAM_BARRIERS_50 STREAM_RATE_16 STREAM_THRESHOLD_1024
    "..............................\0"
    "..............................\0"
    "..............................\0"
    "..............................\0"
    "..............................\0"
    "..............................\0"
    "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWW\0"
    "........I..I.I.I...I..........\0"
    ".........I.......I............\0"
    "WWWWWWWWWWWW....WWWWWWWWWWWWWW\0"
    "..........D......D............\0"
    ".....................D........\0"
    "..............................\0"
    ".........D....................\0"
    "..............................\0"
    "................D......D......\0"
    "WWWWWWWWWWWWWWWWWW....WWWWWWWW\0"
    "........I.......I.............\0"
    "..................I...I.......\0"
    "WWW.......WWWWWWWWWWWWWWWWWWWW\0"
    ".D.........D..................\0"
    "..............................\0"
    "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWW\0"
    ".........I......I.............\0"
    "..................I...........\0"
    "WWWWWWWWWWW....WWWWWWWWWWWWWWW\0"
    ".........D......D.............\0"
    "..............................\0"
    "..............................\0"
    "..............................\0"
    // Block after level 3.
    "$IT'S BREACHED THE SIERPINSKI SECTOR!\0" STREAM_WHITE
    "BEGIN!\0" STREAM_RED
    "\0"
    // Level 4: 30 x 30 cells, 10 barriers.
    STREAM_SIZE_30 STREAM_SIZE_30 STREAM_BARRIERS_10 STREAM_RATE_16 STREAM_THRESHOLD_1024
    "..............................\0"
    "..............WW..............\0"
    ".............W..W.............\0"
    ".............W..W.............\0"
    "............D....W............\0"
    ".................W............\0"
    "...........D......W...........\0"
    "...........W......W...........\0"
    "..........WWWWD.DWWW..........\0"
    "..........WW......WW..........\0"
    ".........W..W.II.D..W.........\0"
    ".........D..W.......W.........\0"
    ".............W..D....W........\0"
    "........D....W..W....W........\0"
    ".......W......WW......W.......\0"
    ".......WWWWD.DWWWWWWWWD.......\0"
    "......W.W............W........\0"
    "......W.W............D.D......\0"
    ".....D...W..............W.....\0"
    ".........W..........D...W.....\0"
    "....D.....W...II...W.....W....\0"
    "....W.....W...II...W.....W....\0"
    "...WWWD.DWWW......WWWWWWWWW...\0"
    "...WW.....WW......WW.....WD...\0"
    "..W..W.I.W..W....W..W.I.W.....\0"
    "..W..D...W..W....D..W...D..D..\0"
    ".W......D....W.......W......W.\0"
    ".W....D......W..D....W.D....W.\0"
    "W......D......WW......W......W\0"
    "WWWWWWWWWWD..DWWWWWWWWWWWWWWWW\0"
    // Block after level 4.
    "$DON'T LET IT REACH THE DIHYDROGEN MONOXIDE\0" STREAM_WHITE
    "(AKA BLUE CIRCLES)\0" STREAM_BLUE
    "OR IT WILL SPREAD TWICE AS FAST\0" STREAM_WHITE
    "BEGIN!\0" STREAM_RED
    "\0"
    // Level 5: 30 x 30 cells, 60 barriers.
    STREAM_SIZE_30 STREAM_SIZE_30 STREAM_BARRIERS_60 STREAM_RATE_16 STREAM_THRESHOLD_1024
    "..............................\0"
    "..............................\0"
    ".......D.WWW....D.............\0"
    "....D....WWW........W....W....\0"
    "...WW........W........D.......\0"
    "...WW.........................\0"
    "..................W....W......\0"
    "..W...........................\0"
    ".........I........WWW...W.....\0"
    "....WW............WWW......D..\0"
    "....WW........................\0"
    ".....................I....W...\0"
    "...W.........N................\0"
    "...D......................WW..\0"
    "..........................WW..\0"
    "........................W.....\0"
    ".W....................D.......\0"
    ".....D.......I................\0"
    "....................WW........\0"
    ".....WWW............WW........\0"
    ".....WWW.........W............\0"
    ".............D............W...\0"
    ".........W.......D............\0"
    "..............................\0"
    "..D.................W.........\0"
    "..WW..........................\0"
    "..WW........W.................\0"
    ".....................D.WWW....\0"
    ".......W.D.............WWW....\0"
    "..............................\0"
    // Block after level 5.
    "$LEAD THE Q-47 TO THE YELLOW CIRCLES\0" STREAM_WHITE
    "(ERR, TETRACHLORIDE WHATEVER)\0" STREAM_YELLOW
    "AND IT WILL SLOW DOWN\0" STREAM_WHITE
    "BEGIN!\0" STREAM_RED
    "\0"
    // Level 6: 30 x 30 cells, 1 barrier.
    STREAM_SIZE_30 STREAM_SIZE_30 STREAM_BARRIERS_1 STREAM_RATE_16 STREAM_THRESHOLD_1024
    "..............................\0"
    "..............................\0"
    "..............................\0"
    "........WWW.........WWW.......\0"
    "........WWW.........WWW.......\0"
    "........WWW.........WWW.......\0"
    "..............................\0"
    "..............................\0"
    "..............................\0"
    "..............................\0"
    "..............................\0"
    "...........W.......W..........\0"
    "...........W.......W..........\0"
    "WW...WW...W.WW...WW....WW..WWW\0"
    ".W...W......N..I...N......W...\0"
    "...W..........I.I.......W...W.\0"
    "WWW..WW...WWWWWWWWWWW.W..WW..W\0"
    "..........W.........W.........\0"
    "..........W....T....W.........\0"
    "..........W...TTT...W.........\0"
    "..........WWWWWWWWWWW.........\0"
    "..............................\0"
    "..............................\0"
    "..............................\0"
    "..............................\0"
    "..............................\0"
    "......WWWWWWWWWWWWWWWWWW......\0"
    "......WWWWWWWWWWWWWWWWWW......\0"
    "......WWWWWWWWWWWWWWWWWW......\0"
    "..............................\0"
    // Block after level 6.
    "$ONLY A FEW Q-47 LEAKS REMAIN\0" STREAM_WHITE
    "$TAKE CARE OF THE POORLY-DESIGNED LOBBY\0" STREAM_WHITE
    "BEGIN!\0" STREAM_RED
    "\0"
    // Level 7: 30 x 30 cells, 10 barriers.
    STREAM_SIZE_30 STREAM_SIZE_30 STREAM_BARRIERS_10 STREAM_RATE_16 STREAM_THRESHOLD_1024
    "......W......W.....W..........\0"
    "......W.....W......W........WW\0"
    "......W....W.......W.......W..\0"
    "WW.....WWWWW......W.......W...\0"
    "..WW..W.....W....W........W...\0"
    "....WW......W....W........W...\0"
    ".....W......W....W.WWWWWWW....\0"
    "......W.....W.....W.......W...\0"
    "......W..T.W......W....T...W..\0"
    "......W...W........WWW.....W..\0"
    ".....WWWWW.....W......WWW..W..\0"
    "....W...........WW.......WWWWW\0"
    "....W......W......W...........\0"
    "WWWW.WW....W......WW..........\0"
    ".......W..W.NII.....W.........\0"
    ".......W..W..IIN.....W.....WWW\0"
    "......W....W.........W....W...\0"
    "....WW.....W.........W...W....\0"
    "...W......W.....WW...W..W....W\0"
    "WW.......W....WW..W..W...WWWW.\0"
    ".........W....W.T.W.......W...\0"
    "..WWWWWWW.....W...W.......W...\0"
    ".W......W.....W...W........W..\0"
    "W......W......W...W...W....W..\0"
    "......W......WW...W....W....W.\0"
    ".....W......W..WWW.WW...W....W\0"
    "....W.......W........W........\0"
    "....W......W..........WW......\0"
    "....W.....W.............W.....\0"
    "...W......W..............W....\0"
    // Level 8: 20 x 20 cells, 0 barriers.
    STREAM_SIZE_20 STREAM_SIZE_20 STREAM_BARRIERS_0 STREAM_RATE_16 STREAM_THRESHOLD_1024
    "....................\0"
    "..DD..DD.DD.DD..DD..\0"
    "..DD..DD.DD.DD..DD..\0"
    "..DD..DD.DD.DD..DD..\0"
    "..DD..DD.DD.DD..DD..\0"
    "....................\0"
    "....................\0"
    "....................\0"
    "....................\0"
    "...T......N.....T...\0"
    "...T.....II.....T...\0"
    "....................\0"
    "....................\0"
    "....................\0"
    "....................\0"
    "..DD..DD.DD.DD..DD..\0"
    "..DD..DD.DD.DD..DD..\0"
    "..DD..DD.DD.DD..DD..\0"
    "..DD..DD.DD.DD..DD..\0"
    "....................\0"
    // Level 9: 40 x 40 cells, 50 barriers.
    STREAM_SIZE_40 STREAM_SIZE_40 STREAM_BARRIERS_50 STREAM_RATE_16 STREAM_THRESHOLD_1024
    "TTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTT\0"
    "T......................................T\0"
    "T......................................T\0"
    "T......................................T\0"
    "T......................................T\0"
    "T......................................T\0"
    "T......................................T\0"
    "T......................................T\0"
    "T......................................T\0"
    "T......................................T\0"
    "T......................................T\0"
    "T..................I...................T\0"
    "T......................................T\0"
    "T..................I...................T\0"
    "T......................................T\0"
    "T..................I...................T\0"
    "T......................................T\0"
    "T..................I...................T\0"
    "T......................................T\0"
    "T..................I...................T\0"
    "T......................................T\0"
    "T..................I...................T\0"
    "T......................................T\0"
    "T..................N...................T\0"
    "T......................................T\0"
    "T......................................T\0"
    "T..................N...................T\0"
    "T......................................T\0"
    "T..................N...................T\0"
    "T......................................T\0"
    "T......WWWWWWWWWWWWWWWWWWWWWWWWW.......T\0"
    "T......WDDDDDWDWWWDWDDDDDWDDDDDW.......T\0"
    "T......WDWWWWWWDWDWWWWDWWWWWDWWW.......T\0"
    "T......WDDDDWWWWDWWWWWDWWWWWDWWW.......T\0"
    "T......WDWWWWWWDWDWWWWDWWWWWDWWW.......T\0"
    "T......WDDDDDWDWWWDWDDDDDWWWDWWW.......T\0"
    "T......WWWWWWWWWWWWWWWWWWWWWWWWW.......T\0"
    "T......................................T\0"
    "T......................................T\0"
    "TTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTTT\0"
    // Block after level 9.
    "$YOU ARE DOING GREAT!\0" STREAM_WHITE
    "THERE IS ONLY ONE Q-47 LEAK LEFT!\0" STREAM_WHITE
    "BEGIN!\0" STREAM_RED
    "\0"
    // Level 10: 30 x 30 cells, 15 barriers.
    STREAM_SIZE_30 STREAM_SIZE_30 STREAM_BARRIERS_15 STREAM_RATE_16 STREAM_THRESHOLD_1024
    "..............................\0"
    "..WW.WW.WW.W.WW.WWWW.W.W.WWWW.\0"
    ".W..........................W.\0"
    ".W..WW.WW.WW.W.WW.WW..W.WW..W.\0"
    "....W....................W....\0"
    ".W..........................W.\0"
    ".W..W.........DDD........W..T.\0"
    "....W.........DN............W.\0"
    ".W..W.........DDD.............\0"
    ".W..W....................W..W.\0"
    "..............................\0"
    ".W..W....................W..W.\0"
    ".W..W....................W..W.\0"
    "............................W.\0"
    "....W.........II.........W....\0"
    ".W............II............W.\0"
    ".W..W....................W..W.\0"
    ".W..W.......................W.\0"
    ".T...........DDD.........W..W.\0"
    "....W........DND............W.\0"
    ".W..W........D.D.........W....\0"
    "..............................\0"
    ".W.......................W..W.\0"
    ".W..W.......................W.\0"
    "....W....................W....\0"
    ".W..W.W.W.W.WW.W.W....WWWW..W.\0"
    ".W..........................W.\0"
    ".W..........................W.\0"
    ".W..WWW.WW.W.W.WW.W.TW.WW.W.W.\0"
    "..............................\0"
    // Final block, after level 10.
    "$ALL LEAKS CONTAINED\0" STREAM_GREEN
    "SCORE-FICIENCY: %S\0" STREAM_CYAN
    "VERY WELL DONE!\0" STREAM_WHITE
    "WE HAVE FULL CONTROL OF ANTIDOTE 47.\0" STREAM_WHITE
    "AND WITH VIRUS 47 SPREADING MORE EACH DAY,\0" STREAM_WHITE
    "OUR PROFITS IN 2012 SHOULD BE SKY-HIGH!\0" STREAM_WHITE
    "&\0" STREAM_BLACK
    "THANKS AGAIN PAL!\0" STREAM_WHITE
    "% \0" STREAM_BLACK
    "by tarnwick\0" STREAM_DARK_GREY
    "~\0" STREAM_BLACK;

