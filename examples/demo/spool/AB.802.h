802
amministrazione@example.com
ab@example.com
cliente@example.com
Listino prezzi 2027
.
SEND
listino_2027.csv
