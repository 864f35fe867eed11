903
.
ab@example.com
amministrazione@rossi.example.com
Fattura FT2026-0042
FATTURA
SAVE
-
FATT01.txt
