# Writes the comparison's workload twice: as a configuration file (cfg) and as
# the REGEDIT4 file that holds the same keys and values (reg). Both with CR LF
# line ends, as Windows tools write them.
#
#   awk -v keys=10000 -v parents=300 -v cfg=FILE.cfg -v reg=FILE.reg \
#       [-v tree=NAME] -f workload.awk
#
# Every key has ten values: four strings, three integers and three blocks of
# twelve bytes; the keys are spread over `parents` parent keys below
# HKEY_CURRENT_USER\Software\Mardovan\<tree> (BrevlinBench unless named).
# With reg="" only the configuration file is written.
BEGIN {
  if (tree == "") tree = "BrevlinBench"
  printf "<[Brevlin]>\r\n<HKEY_CURRENT_USER>\r\n" > cfg
  if (reg != "") printf "REGEDIT4\r\n\r\n" > reg
  for (k = 0; k < keys; k++) {
    path = sprintf("Software\\Mardovan\\%s\\Group%03d\\Key%06d", tree, k % parents, k)
    printf "[%s]\r\n", path > cfg
    if (reg != "") printf "[HKEY_CURRENT_USER\\%s]\r\n", path > reg
    for (v = 0; v < 10; v++) {
      if (v % 3 == 0) {
        text = sprintf("Text value %d of key %d in the benchmark", v, k)
        printf "string\tText%d\t%s\r\n", v, text > cfg
        if (reg != "") printf "\"Text%d\"=\"%s\"\r\n", v, text > reg
      } else if (v % 3 == 1) {
        n = (k * 1000 + v) % 2147483647
        printf "integer\tNumber%d\t%d\r\n", v, n > cfg
        if (reg != "") printf "\"Number%d\"=dword:%08x\r\n", v, n > reg
      } else {
        triplets = ""
        pairs = ""
        for (i = 0; i < 12; i++) {
          byte = (k * 7 + v * 13 + i * 31) % 256
          triplets = triplets sprintf("%02X,", byte)
          pairs = pairs (i ? "," : "") sprintf("%02x", byte)
        }
        printf "binary\tBytes%d\t%s\r\n", v, triplets > cfg
        if (reg != "") printf "\"Bytes%d\"=hex:%s\r\n", v, pairs > reg
      }
    }
    if (reg != "") printf "\r\n" > reg
  }
}
