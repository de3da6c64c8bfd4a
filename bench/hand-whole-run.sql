-- A set-based padding run written by hand for the benchmark's synthetic library at length 9 (card
-- numbers of digits, no trailing blanks, passwords either the card number or another text): the
-- script an administrator could write knowing these tables. It must leave exactly what the
-- program's run leaves (run-whole-run-bench compares the checksums).
--
-- Each padded number goes to the readers of the shortest length that claims it, unless a reader
-- has it already.
CREATE TEMP TABLE hand_claims ON COMMIT DROP AS
SELECT lpad(pe_id, 9, '0') AS w, min(length(pe_id)) AS mq
FROM lib_people WHERE length(pe_id) < 9 GROUP BY 1;
DELETE FROM hand_claims c USING lib_people p WHERE p.pe_id = c.w;
ANALYZE hand_claims;
-- A loan is padded unless a reader has its padded number already, or a shorter reader number
-- claims it (that reader gets it in an earlier pass).
UPDATE lib_jieshu j SET js_libcard = lpad(j.js_libcard, 9, '0')
WHERE length(j.js_libcard) < 9
  AND NOT EXISTS (SELECT 1 FROM lib_people p WHERE p.pe_id = lpad(j.js_libcard, 9, '0'))
  AND NOT EXISTS (SELECT 1 FROM hand_claims c WHERE c.w = lpad(j.js_libcard, 9, '0') AND c.mq < length(j.js_libcard));
-- The readers of the claiming length; a password that was the card number follows it.
UPDATE lib_people p SET pe_id = c.w, pe_passwd = CASE WHEN p.pe_passwd = p.pe_id THEN c.w ELSE p.pe_passwd END
FROM hand_claims c
WHERE length(p.pe_id) < 9 AND c.w = lpad(p.pe_id, 9, '0') AND length(p.pe_id) = c.mq;
