-- 只改变英文字母，中文等其他文字保持原样。
function main(text)
  return string.lower(text)
end
