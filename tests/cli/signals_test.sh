# Signals from a DBC database: the sample capture decodes and the database
# lists exactly as their expected outputs say; channel, signal and database
# choices; standard output; faults of the database and of the command line;
# and a plot that rsvg-convert draws.
source "$KSVW_CLI_LIB"
data="$KSVW_TEST_DATA"
command -v rsvg-convert >/dev/null || fail "rsvg-convert missing (scripts/setup.sh native installs librsvg2-bin)"
cp "$data/vehicle.DT" .

run "$KSVW_DT" decode --dbc "$data/vehicle.dbc" --choices vehicle.DT
expect_status 0
cmp -s "$data/vehicle.signals.csv" vehicle.signals.csv || fail "vehicle.signals.csv differs"
expect_contains err "3017 value(s) from 860 frame(s); not decoded: 1 frame(s) not in the database, 3 signal(s) beyond their frame's data, 1 remote"
run "$KSVW_DT" dbc "$data/vehicle.dbc"
expect_status 0
cmp -s "$data/vehicle_dbc.txt" out || fail "the listing differs from vehicle_dbc.txt"

# One channel, chosen signals, standard output; channel 2 from its own database.
run "$KSVW_DT" decode --dbc "$data/vehicle.dbc" --channel 2 --signals 'Diag*.*,Cabin?emp' -o - vehicle.DT
expect_status 0
tr -d '\r' <out | tail -n +2 | cut -d, -f2,4,5 | sort | uniq -c | awk '{print $1, $2}' >chosen
printf '%s\n' "20 2,ClimateData,CabinTemp" "20 2,Diagnostics,BatteryVoltage" "40 2,Diagnostics,Mode" \
  "20 2,Diagnostics,OilPressure" | cmp -s - chosen || fail "--channel 2 --signals: $(cat chosen)"
printf 'BO_ 768 Other: 1 N\n SG_ First : 0|8@1+ (1,0) [0|0] "" N\n' >other.dbc
run "$KSVW_DT" decode --dbc "$data/vehicle.dbc" --dbc2 other.dbc -o both.csv vehicle.DT
expect_status 0
[[ "$(tr -d '\r' <both.csv | grep -c ',2,300,Other,First,[12],$')" == 40 ]] || fail "--dbc2 did not decode channel 2"
[[ "$(grep -c ',1,100,EngineData,' both.csv)" == 1997 ]] || fail "--dbc2 changed channel 1"

# DB EXIT STDERR: a database that cannot be read ends the command before any capture.
printf 'BO_ 1 M: 1 N\n SG_ S : 4|8@1+ (1,0) [0|0] "" N\n' >bad.dbc
while IFS='|' read -r db code message; do
  for command in "decode --signals" "plot --signal"; do
    # shellcheck disable=SC2086 # the command and its option are two words
    run "$KSVW_DT" $command S --dbc "$db" vehicle.DT
    expect_status "$code"
    expect_contains err "$message"
    expect_empty out
  done
done <<'CASES'
bad.dbc|4|bad.dbc:2:10: signal bits run past the message's 1 data bytes (found '4')
missing.dbc|4|missing.dbc: no such file
other.dbc|2|'S' matches no signal of the database
CASES
run "$KSVW_DT" dbc .
expect_status 4
expect_contains err ".: not a file"
run "$KSVW_DT" decode vehicle.DT
expect_status 2
expect_contains err "--dbc is required"

run "$KSVW_DT" plot --dbc "$data/vehicle.dbc" --signal 'EngineSpeed,Transmission.Gear,VehicleSpeed' vehicle.DT
expect_status 0
run rsvg-convert vehicle.svg -o vehicle.png
expect_status 0
for text in "Transmission.Gear (CH1)" ">Sixth<" ">km/h<" "time (s)"; do
  expect_contains vehicle.svg "$text"
done
[[ "$(head -c 8 vehicle.png | od -An -tx1 | tr -d ' ')" == 89504e470d0a1a0a ]] || fail "no PNG"

finish
