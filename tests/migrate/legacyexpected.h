#pragma once

// Every row of the Jet test files, as their README lists them (stored order).
// Cells: `text` (the backticks are not part of it), NULL, true/false, numbers.
// Tables are either one line per row (first cell the row number) after a line
// of column names, or transposed: one line per column, one cell per row.

struct LegacyTable
{
    const char *file;
    const char *table;
    bool transposed;
    int rows;
    const char *cells;
};

inline constexpr LegacyTable kLegacyTables[] = {
    {"tarn_dat_s21.mdb", "package", false, 4, R"(
| row | package_name |
| 1 | `Harbor Defense` |
| 2 | `O'Neil Squad` |
| 3 | `Zulu Reserve` |
| 4 | `Équipe Rouge` |
)"},
    {"tarn_dat_s21.mdb", "classdef", true, 9, R"(
| column | row 1 | row 2 | row 3 | row 4 | row 5 | row 6 | row 7 | row 8 | row 9 |
| `package_name` | `Harbor Defense` | `Harbor Defense` | `O'Neil Squad` | `Équipe Rouge` | `Harbor Defense` | `O'Neil Squad` | `Équipe Rouge` | `Harbor Defense` | `O'Neil Squad` |
| `class_name` | `Lookout` | `Sapper` | `Combat Field Medic` | `Démolisseur` | `Scout [Recon]` | `Warden` | `Éclaireur` | `Grenadier` | `Drifter` |
| `class_num` | 1 | 2 | 3 | 5 | 7 | 1 | 2 | 12 | 4 |
| `skin_name1` | `lookout_r` | `sapper_r` | `medic_r` | `demo_r` | `scout_r` | NULL | `eclair_r` | `gren_r` | `drift_r` |
| `skin_name2` | `lookout_b` | NULL | `medic_b` | `demo_b` | `scout_b` | `warden_b` | `eclair_b` | `gren_b` | `drift_b` |
| `model_name` | `trooper` | `golem` | `lynx` | `golem` | `lynx` | `trooper` | `lynx` | `golem` | NULL |
| `w1` | 1 | 1 | 1 | 1 | 1 | 2 | 1 | 1 | 1 |
| `w2` | 2 | 5 | 7 | 5 | 2 | 3 | 2 | 3 | 2 |
| `w3` | 3 | 3 | 2 | 8 | 7 | 5 | 0 | 5 | 3 |
| `w4` | 7 | 2 | 0 | 6 | 0 | 7 | 0 | 0 | 5 |
| `w5` | 0 | 4 | 0 | 3 | 0 | 0 | 0 | 0 | 7 |
| `w6` | 0 | 0 | 0 | 0 | 0 | 0 | 0 | 0 | 0 |
| `w7` | 0 | 0 | 0 | 0 | 0 | 0 | 0 | 0 | 0 |
| `w8` | 0 | 0 | 0 | 0 | 0 | 0 | 0 | 0 | 0 |
| `w9` | 0 | NULL | 0 | 0 | 0 | 0 | 0 | 0 | 0 |
| `w10` | 0 | NULL | 0 | 0 | 0 | 0 | 0 | 0 | 0 |
| `g1` | 1 | 1 | 2 | 1 | 2 | 4 | 1 | 1 | 1 |
| `g2` | 2 | 3 | 0 | 3 | 2 | 4 | 0 | 3 | 2 |
| `g3` | 0 | 4 | 0 | 0 | 0 | 4 | 0 | NULL | 4 |
| `max_speed` | 320 | 240 | 300 | 250 | 400 | 280 | 380 | 260 | 330 |
| `max_health` | 100 | 150 | 120 | 140 | 80 | 200 | 90 | 130 | 110 |
| `max_armor` | 50 | 150 | 80 | 120 | 25 | 200 | NULL | 100 | 60 |
| `i1` | true | false | false | true | false | false | true | false | false |
| `i2` | false | true | true | true | false | false | false | false | false |
| `i3` | false | true | false | true | false | false | false | false | true |
| `i4` | true | false | false | true | false | false | false | false | true |
| `i5` | false | false | false | true | false | true | false | false | false |
| `i6` | false | false | true | true | false | false | false | false | false |
| `i7` | false | true | false | true | false | false | false | false | false |
| `i8` | false | false | true | true | false | false | true | false | false |
| `i9` | false | false | false | true | false | false | false | true | false |
| `s1` | true | false | false | false | true | false | true | false | false |
| `s2` | false | false | false | false | true | false | true | false | false |
| `s3` | false | false | true | false | false | false | true | false | false |
| `s4` | false | false | false | false | false | false | true | false | false |
| `s5` | true | false | false | false | false | false | true | false | false |
| `s6` | false | true | false | false | false | false | true | false | false |
| `s7` | false | false | false | false | false | false | true | false | true |
| `s8` | false | false | false | false | false | false | true | false | true |
| `s9` | false | false | false | false | false | false | true | false | true |
| `s10` | false | true | false | false | false | false | true | false | false |
| `s11` | false | false | false | false | false | false | true | false | true |
| `s12` | false | false | true | false | false | false | true | false | false |
| `s13` | false | false | false | false | false | false | true | false | true |
| `s14` | false | true | false | true | false | false | true | false | false |
| `s15` | true | false | false | false | false | false | true | false | false |
| `s16` | false | false | true | false | false | false | true | false | false |
| `s17` | false | false | false | false | true | false | true | false | false |
| `s18` | false | false | false | false | true | false | true | false | false |
| `s19` | false | false | false | false | false | false | true | false | true |
| `s20` | false | false | false | true | false | false | true | false | false |
| `s21` | false | true | false | false | false | false | true | true | false |
| `decoyskin` | 1 | 2 | 0 | 3 | 1 | 4 | 0 | 5 | NULL |
| `maxbullets` | 200 | 100 | 150 | 50 | 120 | 100 | 180 | 80 | 160 |
| `maxshells` | 50 | 60 | 20 | 80 | 0 | 100 | 0 | 40 | 40 |
| `maxrockets` | 0 | 20 | 0 | 30 | 0 | 40 | 0 | 0 | 10 |
| `maxgrenades` | 10 | 40 | 0 | 60 | 5 | 20 | 0 | 99 | 20 |
| `maxcells` | 0 | 0 | 100 | 0 | 0 | 50 | 0 | 0 | 30 |
| `maxslugs` | 0 | NULL | 0 | 0 | 10 | 0 | 20 | 0 | NULL |
| `notes` | `Fast spotter; keep armour low.` | NULL | `Heals others, cannot carry rockets` | `Uses the Tesla Coil (weapon 8, disabled)` | `Bracketed name on purpose` | NULL | `Toutes les capacités spéciales` | NULL | `Model left empty` |
)"},
    {"tarn_dat.mdb", "package", false, 4, R"(
| row | package_name |
| 1 | `Lighthouse Watch` |
| 2 | `Empty Barracks` |
| 3 | `D'Arcy Irregulars` |
| 4 | `Garçons Sauvages` |
)"},
    {"tarn_dat.mdb", "classdef", true, 9, R"(
| column | row 1 | row 2 | row 3 | row 4 | row 5 | row 6 | row 7 | row 8 | row 9 |
| `package_name` | `D'Arcy Irregulars` | `Lighthouse Watch` | `Garçons Sauvages` | `Lighthouse Watch` | `D'Arcy Irregulars` | `Lighthouse Watch` | `D'Arcy Irregulars` | `Garçons Sauvages` | `D'Arcy Irregulars` |
| `class_name` | `Brawler` | `Lamplighter` | `Tireur d'Élite` | `Heavy Rail Gunner` | `Rifleman [Elite]` | `Ferryman` | `Mender` | `Braconnier` | `Skirmisher` |
| `class_num` | 4 | 1 | 6 | 7 | 1 | 2 | 9 | 3 | 5 |
| `skin_name1` | `brawl_r` | `lamp_r` | `tireur_r` | `hrg_r` | `rifle_r` | NULL | `mend_r` | `bracon_r` | `skirm_r` |
| `skin_name2` | `brawl_b` | `lamp_b` | `tireur_b` | `hrg_b` | `rifle_b` | `ferry_b` | `mend_b` | `bracon_b` | `skirm_b` |
| `model_name` | `golem` | `trooper` | `lynx` | `golem` | `trooper` | `lynx` | `lynx` | NULL | `trooper` |
| `w1` | 1 | 1 | 1 | 1 | 1 | 1 | 1 | 1 | 1 |
| `w2` | 3 | 2 | 6 | 4 | 7 | 2 | 2 | 3 | 2 |
| `w3` | 3 | 7 | 2 | 5 | 2 | 0 | 7 | 6 | 3 |
| `w4` | 5 | 0 | 0 | 8 | 3 | 0 | 0 | 7 | 4 |
| `w5` | 0 | 0 | 0 | 0 | 0 | 0 | 0 | 5 | 5 |
| `w6` | 0 | 0 | 0 | 0 | 0 | 0 | 0 | 0 | 6 |
| `w7` | 0 | 0 | 0 | 0 | 0 | 0 | 0 | 0 | 7 |
| `w8` | 0 | 0 | 0 | 0 | 0 | 0 | 0 | 0 | 8 |
| `w9` | 0 | 0 | 0 | 0 | NULL | 0 | 0 | 0 | 0 |
| `w10` | 0 | 0 | 0 | 0 | NULL | 0 | 0 | 0 | 0 |
| `g1` | 1 | 2 | 2 | 1 | 1 | 0 | 2 | 1 | 1 |
| `g2` | 1 | 0 | 4 | 3 | 2 | 0 | 0 | NULL | 2 |
| `g3` | 0 | 0 | 0 | 0 | 4 | 0 | 0 | NULL | 3 |
| `max_speed` | 270 | 310 | 290 | 210 | 300 | 350 | 305 | 315 | 335 |
| `max_health` | 175 | 100 | 90 | 220 | 120 | 100 | 110 | 105 | 95 |
| `max_armor` | 150 | 40 | 30 | 200 | 90 | 0 | 70 | NULL | 50 |
| `i1` | false | true | true | false | false | false | false | false | false |
| `i2` | true | false | true | false | false | false | true | false | false |
| `i3` | false | false | true | true | false | false | false | false | false |
| `i4` | false | false | true | false | true | false | false | false | false |
| `i5` | false | false | true | false | false | false | false | true | false |
| `i6` | false | false | true | false | false | false | true | false | false |
| `i7` | true | false | true | false | false | false | false | true | false |
| `i8` | false | true | true | false | false | false | false | false | false |
| `i9` | false | false | false | true | false | false | false | false | false |
| `s1` | false | true | true | false | false | false | false | false | false |
| `s2` | true | false | true | false | false | false | false | false | false |
| `s3` | false | false | true | false | false | false | true | false | false |
| `s4` | false | false | true | false | true | false | false | false | false |
| `s5` | false | false | true | false | false | false | false | false | false |
| `s6` | true | false | true | false | false | false | false | false | false |
| `s7` | false | false | true | false | false | false | false | true | false |
| `s8` | false | false | true | false | false | false | false | false | false |
| `s9` | false | true | true | false | false | false | false | false | false |
| `s10` | false | false | true | true | false | false | false | false | false |
| `s11` | false | false | true | false | true | false | false | false | false |
| `s12` | false | false | true | false | false | false | true | false | false |
| `s13` | false | false | true | false | false | false | false | true | false |
| `s14` | false | false | true | false | false | false | false | false | false |
| `s15` | false | false | true | false | false | false | false | false | false |
| `s16` | false | false | true | false | false | false | false | false | false |
| `s17` | false | false | true | false | false | false | false | false | false |
| `s18` | false | false | true | false | false | false | false | false | false |
| `s19` | false | false | true | false | false | false | false | false | false |
| `s20` | false | false | true | false | false | false | false | false | false |
| `s21` | false | false | true | true | false | false | false | false | false |
| `s22` | true | false | true | false | false | false | false | false | false |
| `s23` | false | true | true | false | false | false | false | false | false |
| `s24` | false | false | true | false | false | false | true | false | false |
| `s25` | true | false | true | false | false | false | false | false | false |
| `s26` | false | false | true | false | true | false | false | false | false |
| `s27` | false | false | true | false | true | false | false | false | false |
| `s28` | false | false | true | false | true | false | false | false | false |
| `s29` | false | false | true | false | false | false | false | true | false |
| `s30` | false | false | true | true | false | false | false | false | false |
| `s31` | false | false | true | false | false | true | false | false | false |
| `decoyskin` | 2 | 1 | 3 | 4 | 0 | 1 | NULL | 2 | 0 |
| `maxbullets` | 60 | 150 | 60 | 300 | 250 | 100 | 120 | 90 | 140 |
| `maxshells` | 120 | 30 | 0 | 20 | 30 | 10 | 20 | 70 | 40 |
| `maxrockets` | 0 | 0 | 0 | 40 | 0 | 0 | 0 | 10 | 20 |
| `maxgrenades` | 30 | 10 | 5 | 10 | 20 | 0 | 0 | 15 | 20 |
| `maxcells` | 0 | 60 | 0 | 200 | 0 | 0 | 150 | 0 | 20 |
| `maxslugs` | 0 | 0 | 40 | 0 | 0 | 0 | NULL | 25 | 20 |
| `notes` | NULL | `Carries the radio beacon` | `Every special ability ticked (sum 2147483647)` | NULL | `Brackets in the class name` | `Only s31 (2^30) set` | NULL | `Trapper; armour left empty` | NULL |
)"},
    {"tarn_ref.mdb", "weapon", false, 8, R"(
| row | w_id | w_name | w_damage | w_speed | qz_enabled |
| 1 | 1 | `Blaster` | 15 | 1000 | 1 |
| 2 | 2 | `Rivet Gun` | 8 | 1400 | 1 |
| 3 | 3 | `Scatter Cannon` | 6 | 900 | 1 |
| 4 | 4 | `Arc Lance` | 40 | 2000 | 0 |
| 5 | 5 | `Flak Mortar` | 90 | 650 | 1 |
| 6 | 6 | `Needle Rifle` | 55 | 2500 | NULL |
| 7 | 7 | `Pulse Carbine` | 22 | 1200 | 1 |
| 8 | 8 | `Tesla Coil` | 70 | NULL | 0 |
)"},
    {"tarn_ref.mdb", "grenade", false, 4, R"(
| row | g_id | g_name | g_damage | g_speed | qz_enabled |
| 1 | 1 | `Frag Grenade` | 100 | 600 | 1 |
| 2 | 2 | `Smoke Canister` | 0 | 500 | 1 |
| 3 | 3 | `Cluster Bomb` | 160 | 550 | 0 |
| 4 | 4 | `Gravity Well` | 30 | 450 | 1 |
)"},
    {"tarn_ref.mdb", "item", false, 9, R"(
| row | i_id | i_name | qz_enabled |
| 1 | 1 | `Jump Pack` | 1 |
| 2 | 2 | `Medkit` | 1 |
| 3 | 4 | `Armor Shard` | NULL |
| 4 | 8 | `Night Vision` | 1 |
| 5 | 16 | `Grappling Hook` | 0 |
| 6 | 32 | `Motion Sensor` | 1 |
| 7 | 64 | `Ammo Satchel` | 1 |
| 8 | 128 | `Radio Beacon` | 1 |
| 9 | 256 | `Cloak Module` | 1 |
)"},
    {"tarn_ref.mdb", "special", false, 24, R"(
| row | s_id | s_name | qz_enabled |
| 1 | 1 | `Double Jump` | 1 |
| 2 | 2 | `Fast Reload` | 1 |
| 3 | 4 | `Regeneration` | 1 |
| 4 | 8 | `Fall Damage Immunity` | NULL |
| 5 | 16 | `Stealth Step` | 1 |
| 6 | 32 | `Heavy Lifter` | 1 |
| 7 | 64 | `Wall Climb` | 1 |
| 8 | 128 | `Quick Swap` | 1 |
| 9 | 256 | `Spot Enemies` | 1 |
| 10 | 512 | `Disarm Traps` | 1 |
| 11 | 1024 | `Build Turret` | 1 |
| 12 | 2048 | `Heal Others` | 1 |
| 13 | 4096 | `Resupply Others` | 0 |
| 14 | 8192 | `Demolition` | 1 |
| 15 | 16384 | `Sprint` | 1 |
| 16 | 32768 | `Bunny Hop` | 1 |
| 17 | 65536 | `Flag Carrier Bonus` | 0 |
| 18 | 131072 | `Shield Bash` | 1 |
| 19 | 262144 | `Marksman` | 1 |
| 20 | 524288 | `Iron Lungs` | 1 |
| 21 | 1048576 | `Scavenger` | 2 |
| 22 | 2097152 | `Last Stand` | 1 |
| 23 | 4194304 | `Decoy Projector` | 1 |
| 24 | 8388608 | `Rocket Jump` | 1 |
)"},
};
